// STUB: replaced by the downloads work.
#include "transfer/gui/Form_Run.h"

void TForm_Run::SetCheckAndDownloadVersionParams(QObject*, const std::string&, const std::string&,
    const std::string&, const std::string&, const std::string&, const std::string&, const std::string&,
    const std::string&, const std::string&, const std::string&) {}
bool TForm_Run::CheckAndDownloadVersionFiles(QObject*, bool) { return false; }
void TForm_Run::DeleteFilesInDir(const std::string&) {}
