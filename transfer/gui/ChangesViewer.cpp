// STUB: replaced by the change-viewer work.
#include "transfer/gui/Form_Run.h"

void TForm_Run::ShowChangesFile(QObject*, const std::string&) {}
std::string TForm_Run::FindBrowserPath() { return {}; }
