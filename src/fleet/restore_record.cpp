#include "fleet/restore_record.h"

#include "update/update_procedure.h"
#include "xport/saved_records.h"

namespace fleet {

int RestoreSavedRecord(update::UpdateSession& s, const std::string& path, Language language) {
  return update::RestoreSavedRecord(s, path, [&](const std::string& savedMac) {
    const std::string expected = savedMac.empty() ? xport::MacKeyOfFileName(path) : savedMac;
    if (expected.empty()) {
      panel::ShowNotice(s.owner, Fill(texts::kRestoreMacUnknown.In(language), {path}), "Error",
                        panel::NoticeStyle::Plain);
      return false;
    }
    if (!s.xport.QueryXPortInfo()) {
      panel::ShowNotice(s.owner, texts::kRestoreNoInformation.In(language), "Error",
                        panel::NoticeStyle::Plain);
      return false;
    }
    const std::string actual = xport::MacKey(s.xport.XPortInfo());
    if (actual == expected) return true;
    panel::ShowNotice(s.owner,
                      Fill(texts::kRestoreOtherXPort.In(language),
                           {expected, s.shared.AddressText.data(), actual, path}),
                      "Error", panel::NoticeStyle::Plain);
    return false;
  });
}

}  // namespace fleet
