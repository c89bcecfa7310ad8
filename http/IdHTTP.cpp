// STUB: replaced by the real client.
#include "http/IdHTTP.h"

struct TIdHTTP::Impl {};
TIdHTTP::TIdHTTP() : impl_(std::make_unique<Impl>()) {}
TIdHTTP::~TIdHTTP() = default;
void TIdHTTP::Get(const std::string&, TMemoryStream&) { throw EIdSocketError(10061, "Socket Error # 10061\r\nConnection refused."); }
void TIdHTTP::Disconnect() {}
bool TIdHTTP::Connected() { return false; }
