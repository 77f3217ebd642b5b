// DialogPanel: a run's events shown on a dialog. It is the one adapter between the core's
// typed events and a DialogHost: the status, model and version lines, the progress bar,
// the port box and the enabling of the inputs, the notices and questions, each as the
// operator has always seen them. It keeps no state of its own but a scratch text: the
// controls are the panel's state.
//
// Thread notes: called from the run's thread; each event has taken effect on the front
// end when OnEvent returns (DialogHost's contract).
#pragma once

#include <string>

#include "panel/events.h"
#include "panel/target.h"
#include "ui/dialog/dialog_host.h"

namespace ui {

class DialogPanel final : public panel::RunObserver {
 public:
  explicit DialogPanel(DialogHost& owner) : owner_(owner) { scratch_.reserve(64); }

  void OnEvent(const panel::Event& event) override;
  bool OnQuestion(const panel::Question& question) override;

  // The display operations the events come down to.
  void SetStatus(const panel::StatusChanged& status);
  // Model line and "Ver:%4d" line from the identity; "KT-?" and an empty line for a model
  // that is not listed.
  void ShowIdentity(const device::DeviceIdentity& identity);
  void ClearIdentity();
  // Range 0..range, the step, position 0.
  void ResetProgress(int range, int step);
  // IDC_ADDRESS, IDC_PORT, Connect and Exit, in that order.
  void EnableInputs(bool enable);

  // The device the two boxes name: the address box's first 15 characters read the way the
  // dialog always read them (a text that is no dotted address goes on as 255.255.255.255
  // and fails at the XPort), the port box read like atoi (0: none given).
  device::Target TargetFromBoxes();

  DialogHost& owner() { return owner_; }

 private:
  DialogHost& owner_;
  // Reused for every status text, so the per-block counter costs no allocation.
  std::string scratch_;
};

// atoi's reading of a text (white space, one sign, digits up to the first other
// character; none gives 0), with a defined result: saturated at the int range.
int ParsePortText(const std::string& text);

// The first maxChars UTF-8 characters of text, as an edit box with that limit keeps them.
std::string LimitChars(const std::string& text, std::size_t maxChars);

}  // namespace ui
