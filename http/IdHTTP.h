// Blocking HTTP/1.0 GET client with proxy support, connection and progress
// events, and an idle callback (the anti-freeze) that keeps a GUI responsive
// while a request waits. No widget dependency.
//
// "https" addresses are fetched over TLS (1.2 or later) where the build has
// it (HALVORNE_TLS): the server's certificate chain is checked against the
// system's trust store and its name against the address, and a proxy is
// asked for a tunnel (CONNECT), whose refusal raises EIdProxyRefused.
// OnConnected then fires once the connection is secure; a failed check
// raises EIdTlsError. Without TLS in the build
// an "https" address is treated as the plain client always treated it.
#pragma once

#include "http/IdAntiFreeze.h"
#include "http/IdExceptions.h"
#include "http/MemoryStream.h"
#include "http/Stream.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class SocketConnection; // platform/net

enum TWorkMode { wmRead = 0, wmWrite = 1 };

struct TIdHTTPRequest {
    std::string ProxyServer; // empty: connect directly
    int ProxyPort = 0;
    std::string ContentType;
    std::string Accept = "text/html, */*";
    std::string UserAgent = "Mozilla/3.0 (compatible; Indy Library)";
};

class TIdHTTP {
public:
    TIdHTTP();
    ~TIdHTTP();
    TIdHTTP(const TIdHTTP&) = delete;
    TIdHTTP& operator=(const TIdHTTP&) = delete;

    // Settings
    std::string ProtocolVersion = "1.1"; // the operations set "1.0"
    bool InterceptEnabled = false;
    bool HandleRedirects = false;
    int RedirectMaximum = 15;
    TIdHTTPRequest Request;
    TIdAntiFreeze* AntiFreeze = nullptr; // served while a Get waits
    // A bound of the request's own on the response body, below the
    // stream's (TStream::MaxSize): a larger body fails the Get with
    // EIdBodyTooLarge once this much has arrived. None by default.
    uint64_t MaxBodySize = UINT64_MAX;

    // Fetches url into stream (written from its current position). Returns
    // for a 2xx status without a Location header; throws an EIdException
    // (see IdExceptions.h) otherwise. A Disconnect() issued from the idle
    // callback while Get waits makes Get throw EIdSocketError. A stream
    // that cannot keep the body of a 2xx answer ends the Get with its
    // EStreamError, the connection left open like after an error status.
    void Get(const std::string& url, TStream& stream);

    // Gets ready, on another thread, for requests to url that follow soon:
    // for an "https" address the trust store is read meanwhile. Nothing is
    // sent; an address that cannot be used fails later, in Get.
    static void PrepareFor(const std::string& url);

    // The request after the next Get will likely be for url. Where that is
    // an "https" address on the same server as the next Get's, its
    // connection is made on another thread, resuming the next Get's
    // session, while that Get reads its answer; the Get for url then sends
    // at once. Only the next Get takes the hint; a connection made ahead
    // and not used is closed by a Get for another address, by Disconnect
    // and by the destructor. Not through a proxy.
    void ExpectNext(const std::string& url);

    // Closes an open connection (fires OnDisconnected) and one made ahead.
    void Disconnect();
    // Whether a connection is open; notices a close by the peer.
    bool Connected();

    // Response state of the last request
    int ResponseCode = 0;
    std::string ResponseText;
    // Whether its secure connection resumed the session of an earlier one
    // to the same server (see TTlsSession).
    bool SessionResumed = false;

    // Events; sender is this client.
    std::function<void(TIdHTTP* sender)> OnConnected;
    std::function<void(TIdHTTP* sender)> OnDisconnected;
    std::function<void(TIdHTTP* sender, TWorkMode mode, int64_t countMax)> OnWorkBegin;
    std::function<void(TIdHTTP* sender, TWorkMode mode, int64_t count)> OnWork;
    std::function<void(TIdHTTP* sender, TWorkMode mode)> OnWorkEnd;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
