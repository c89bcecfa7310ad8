// STUB: replaced by the start-up work.
#include "startup/gui/Form_Master.h"
#include "HalvorneConfig.h"

#include <cstdlib>

TForm_Master* Form_Master = nullptr;

TForm_Master::TForm_Master(const std::vector<std::string>&, const std::string&, QWidget* parent)
    : QWidget(parent), TerminateProcess([](int code) { std::exit(code); }) {}
std::string TForm_Master::GetVersionDirAddress() const { return halvorne::UnscrambleText(halvorne::config::kStoredVersionDirAddress); }
std::string TForm_Master::GetVersionFileName() const { return halvorne::UnscrambleText(halvorne::config::kStoredVersionFileName); }
std::string TForm_Master::GetNewVersionFileName() const { return halvorne::UnscrambleText(halvorne::config::kStoredNewVersionFileName); }
std::string TForm_Master::GetDokumDirAddress() const { return halvorne::UnscrambleText(halvorne::config::kStoredVersionDirAddress); }
std::string TForm_Master::GetDokumFileName() const { return halvorne::UnscrambleText(halvorne::config::kStoredDokumFileName); }
std::string TForm_Master::GetChangesHtmlAddress() const { return halvorne::UnscrambleText(halvorne::config::kStoredChangesHtmlAddress); }
std::string TForm_Master::GetChangesPdfAddress() const { return halvorne::UnscrambleText(halvorne::config::kStoredChangesPdfAddress); }
bool TForm_Master::ExtractParamValue(const std::string&, const std::string&, std::string& value) const { value.clear(); return false; }
void TForm_Master::ShowMessageDlg(TMsgDlgType, const QString&) {}
void TForm_Master::EndProgram() {}
void TForm_Master::ReadProxySettings() {}
