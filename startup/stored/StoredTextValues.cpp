// Compiled once per program against that program's generated
// HalvorneConfig.h (see halvorne_add_program).
#include "startup/core/StoredTextValues.h"

#include "HalvorneConfig.h"

namespace startup::stored {
namespace {
template <std::size_t N>
std::string_view View(const std::array<unsigned char, N>& bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), N};
}
} // namespace

char LaunchMarkerFirst() { return static_cast<char>(config::kLaunchMarkerFirst); }
char LaunchMarkerSecond() { return static_cast<char>(config::kLaunchMarkerSecond); }
char LaunchMarkerThird() { return static_cast<char>(config::kLaunchMarkerThird); }

std::string_view VersionDirAddress() { return View(config::kStoredVersionDirAddress); }
std::string_view VersionFileName() { return View(config::kStoredVersionFileName); }
std::string_view NewVersionFileName() { return View(config::kStoredNewVersionFileName); }
std::string_view DokumFileName() { return View(config::kStoredDokumFileName); }
std::string_view ChangesHtmlAddress() { return View(config::kStoredChangesHtmlAddress); }
std::string_view ChangesPdfAddress() { return View(config::kStoredChangesPdfAddress); }
std::string_view CaptionNotice() { return View(config::kStoredCaptionNotice); }
std::string_view UpdatePublicKey() { return View(config::kStoredUpdatePublicKey); }

} // namespace startup::stored
