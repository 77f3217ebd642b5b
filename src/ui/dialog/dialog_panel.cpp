#include "ui/dialog/dialog_panel.h"

#include <algorithm>
#include <climits>
#include <type_traits>

#include "platform/socket.h"

namespace ui {
namespace {

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

void DialogPanel::OnEvent(const panel::Event& event) {
  std::visit(
      [this](const auto& e) {
        using E = std::decay_t<decltype(e)>;
        if constexpr (std::is_same_v<E, panel::StageChanged>) {
          // The inputs stay disabled from the start of a run to its end.
          if (e.stage == panel::Stage::Preparing) EnableInputs(false);
          if (e.stage == panel::Stage::Done) EnableInputs(true);
        } else if constexpr (std::is_same_v<E, panel::StatusChanged>) {
          SetStatus(e);
        } else if constexpr (std::is_same_v<E, panel::ProgressReset>) {
          ResetProgress(e.total, e.step);
        } else if constexpr (std::is_same_v<E, panel::ProgressStepped>) {
          owner_.StepProgress();
        } else if constexpr (std::is_same_v<E, panel::ProgressSet>) {
          owner_.SetProgressPos(e.pos);
        } else if constexpr (std::is_same_v<E, panel::IdentityShown>) {
          ShowIdentity(e.identity);
        } else if constexpr (std::is_same_v<E, panel::IdentityCleared>) {
          ClearIdentity();
        } else if constexpr (std::is_same_v<E, panel::VersionLineChanged>) {
          owner_.SetControlText(IDC_VERSION, panel::VersionLineText(e));
        } else if constexpr (std::is_same_v<E, panel::PortReplaced>) {
          owner_.SetControlText(IDC_PORT, std::to_string(e.port));
        } else if constexpr (std::is_same_v<E, panel::NoticeRaised>) {
          owner_.ShowMessage(panel::Render(e.message), panel::CaptionText(e.caption), e.style);
        }
      },
      event);
}

bool DialogPanel::OnQuestion(const panel::Question& question) {
  return owner_.AskQuestion(panel::Render(question.message), panel::CaptionText(question.caption));
}

void DialogPanel::SetStatus(const panel::StatusChanged& status) {
  scratch_.assign(panel::Text(status.id));
  scratch_.append(static_cast<std::size_t>(std::max(status.dots, 0)), '.');
  if (status.echoed >= 0) {
    scratch_ += ' ';
    scratch_ += std::to_string(status.echoed);
  }
  owner_.SetControlText(IDC_STATUS, scratch_);
}

void DialogPanel::ShowIdentity(const device::DeviceIdentity& identity) {
  const device::ModelInfo* model = device::FindModel(identity.ModelCode);
  owner_.SetControlText(IDC_MODEL, model ? model->panelLine : "KT-?");
  owner_.SetControlText(IDC_VERSION, model ? panel::FormatVersion(identity.ReportedVersion) : "");
}

void DialogPanel::ClearIdentity() {
  owner_.SetControlText(IDC_MODEL, "");
  owner_.SetControlText(IDC_VERSION, "");
}

void DialogPanel::ResetProgress(int range, int step) {
  owner_.SetProgressRange(range);
  owner_.SetProgressStep(step);
  owner_.SetProgressPos(0);
}

void DialogPanel::EnableInputs(bool enable) {
  for (int id : {IDC_ADDRESS, IDC_PORT, ID_CONNECT, ID_EXIT}) owner_.EnableControl(id, enable);
}

device::Target DialogPanel::TargetFromBoxes() {
  device::Target target;
  // The box counts characters; the address it names is read from its first 15 bytes.
  std::string address = owner_.GetControlText(IDC_ADDRESS, kAddressMaxChars);
  address.resize(std::min(address.size(), kAddressMaxChars));
  address = address.substr(0, address.find('\0'));
  if (!address.empty()) target.address = platform::InetAddr(address.c_str());
  const int port = ParsePortText(owner_.GetControlText(IDC_PORT, kPortMaxChars));
  if (port != 0) target.port = port;
  return target;
}

int ParsePortText(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size() && IsSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  // Accumulate toward the sign's side so that INT_MIN is reachable, stopping at the bound.
  long long value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    const int digit = text[i] - '0';
    value = value * 10 + (negative ? -digit : digit);
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
  }
  return static_cast<int>(value);
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

}  // namespace ui
