#include "fleet/restore_record.h"

#include "panel/text_catalog.h"
#include "platform/program_folder.h"
#include "update/update_procedure.h"
#include "xport/saved_records.h"

namespace fleet {

int RestoreSavedRecord(update::UpdateSession& s, const std::filesystem::path& file) {
  const std::string path = platform::PathToUtf8(file);  // as the notices name it
  return update::RestoreSavedRecord(s, file, [&](const std::string& savedMac) {
    const std::string expected = savedMac.empty() ? xport::MacKeyOfFileName(file) : savedMac;
    if (expected.empty()) {
      panel::ShowNotice(s.owner, panel::FormatText(panel::TextId::RestoreMacUnknown, {path}),
                        "Error", panel::NoticeStyle::Plain);
      return false;
    }
    if (!s.xport.QueryXPortInfo()) {
      panel::ShowNotice(s.owner, panel::Text(panel::TextId::NoInformation), "Error",
                        panel::NoticeStyle::Plain);
      return false;
    }
    const std::string actual = xport::MacKey(s.xport.XPortInfo());
    if (actual == expected) return true;
    panel::ShowNotice(s.owner,
                      panel::FormatText(panel::TextId::RestoreOtherXPort,
                                        {expected, s.shared.AddressText.data(), actual, path}),
                      "Error", panel::NoticeStyle::Plain);
    return false;
  });
}

}  // namespace fleet
