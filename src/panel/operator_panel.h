// OperatorPanel: the display operations through which an update run reports, written
// once on top of DialogHost so that every front end shows the same texts in the same
// order. The panel keeps no state of its own: the controls are its state.
//
// Thread notes: called from the update's worker; each operation has taken effect on the
// front end when it returns: the controls hold the new values (DialogHost's contract).
#pragma once

#include <string>
#include <string_view>

#include "panel/device_identity.h"
#include "panel/dialog_host.h"

namespace panel {

class OperatorPanel {
 public:
  explicit OperatorPanel(DialogHost& owner) : owner_(owner) { scratch_.reserve(64); }

  void SetStatus(std::string_view text);
  // Model line and "Ver:%4d" line from the identity; "KT-?" and an empty line for a model
  // that is not listed.
  void ShowIdentity(const device::DeviceIdentity& identity);
  void ClearIdentity();
  void SetVersionLine(const std::string& text);
  // Range 0..range, the step, position 0.
  void ResetProgress(int range, int step);
  void StepProgress();
  void SetProgress(int position);
  // IDC_ADDRESS, IDC_PORT, Connect and Exit, in that order.
  void EnableInputs(bool enable);

  DialogHost& owner() { return owner_; }

 private:
  DialogHost& owner_;
  // Reused for every status text, so the per-block counter costs no allocation.
  std::string scratch_;
};

// "Ver:%4d": the number right-aligned in at least four characters.
std::string FormatVersion(int version);

// The first maxChars UTF-8 characters of text, as an edit box with that limit keeps them.
std::string LimitChars(const std::string& text, std::size_t maxChars);

}  // namespace panel
