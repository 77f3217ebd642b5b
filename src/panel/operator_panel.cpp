#include "panel/operator_panel.h"

#include <algorithm>
#include <cstdio>

namespace panel {

void OperatorPanel::SetStatus(std::string_view text) {
  scratch_.assign(text);
  owner_.SetControlText(IDC_STATUS, scratch_);
}

void OperatorPanel::ShowIdentity(const device::DeviceIdentity& identity) {
  std::string model;
  std::string version;
  switch (identity.ModelCode) {
    case device::kModelKT21:
      model = "Model:KT-21";
      break;
    case device::kModelKT40D:
      model = "Model:KT-40D(-W)";
      break;
    case device::kModelKT52W:
      model = "Model:KT-52W";
      break;
    default:
      model = "KT-?";
      break;
  }
  if (model != "KT-?") version = FormatVersion(identity.ReportedVersion);
  owner_.SetControlText(IDC_MODEL, model);
  owner_.SetControlText(IDC_VERSION, version);
}

void OperatorPanel::ClearIdentity() {
  owner_.SetControlText(IDC_MODEL, "");
  owner_.SetControlText(IDC_VERSION, "");
}

void OperatorPanel::SetVersionLine(const std::string& text) {
  owner_.SetControlText(IDC_VERSION, text);
}

void OperatorPanel::ResetProgress(int range, int step) {
  owner_.SetProgressRange(range);
  owner_.SetProgressStep(step);
  owner_.SetProgressPos(0);
}

void OperatorPanel::StepProgress() { owner_.StepProgress(); }

void OperatorPanel::SetProgress(int position) { owner_.SetProgressPos(position); }

void OperatorPanel::EnableInputs(bool enable) {
  for (int id : {IDC_ADDRESS, IDC_PORT, ID_CONNECT, ID_EXIT}) owner_.EnableControl(id, enable);
}

std::string LimitChars(const std::string& text, std::size_t maxChars) {
  std::size_t chars = 0, i = 0;
  while (i < text.size() && chars < maxChars) {
    const auto c = static_cast<unsigned char>(text[i]);
    i += c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    ++chars;
  }
  return text.substr(0, std::min(i, text.size()));
}

std::string FormatVersion(int version) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "Ver:%4d", version);
  return buf;
}

}  // namespace panel
