// STUB: replaced by the downloads work.
#include "transfer/gui/Form_Run.h"

void TForm_Run::SetCheckAndDownloadDokumParams(QObject*, const std::string&, const std::string&, const std::string&) {}
bool TForm_Run::CheckAndDownloadDokumFiles(QObject*) { return false; }
