#include "panel/events.h"

#include <cstdio>

namespace panel {

TextId StageText(Stage stage) {
  switch (stage) {
    case Stage::Queued:
      return TextId::PhaseQueued;
    case Stage::Preparing:
      return TextId::PhasePreparing;
    case Stage::XPort:
      return TextId::PhaseXPort;
    case Stage::Identifying:
      return TextId::PhaseIdentifying;
    case Stage::Awaiting:
      return TextId::PhaseAwaiting;
    case Stage::Writing:
      return TextId::PhaseWriting;
    case Stage::Verifying:
      return TextId::PhaseVerifying;
    case Stage::Leaving:
      return TextId::PhaseLeaving;
    case Stage::CleanUp:
      return TextId::PhaseCleanUp;
    case Stage::Done:
      break;
  }
  return TextId::PhaseDone;
}

const char* CaptionText(Caption caption) {
  switch (caption) {
    case Caption::None:
      return "";
    case Caption::Error:
      return Text(TextId::CaptionError);
    case Caption::Confirm:
      return Text(TextId::CaptionConfirm);
    case Caption::Caution:
      return Text(TextId::CaptionCaution);
    case Caption::Program:
      break;
  }
  return "DERURUZUD";
}

std::string Render(const Message& message, Language language) {
  const std::string_view format = Text(message.id, language);
  std::string out;
  auto next = message.args.begin();
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] == '%' && i + 1 < format.size() && format[i + 1] == 's') {
      if (next != message.args.end()) {
        if (const auto* text = std::get_if<std::string>(&*next)) {
          out += *text;
        } else {
          out += Text(std::get<TextId>(*next), language);
        }
        ++next;
      }
      ++i;
    } else {
      out += format[i];
    }
  }
  return out;
}

std::string Render(const Message& message) {
  return Render(message, CurrentLanguage());
}

std::string FormatVersion(int version) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "Ver:%4d", version);
  return buf;
}

std::string VersionLineText(const VersionLineChanged& line) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "Ver:%4d -> %4d", line.before, line.after);
  std::string text = buf;
  if (line.mark == VersionLineChanged::Mark::Written) {
    text += std::string(" ") + Text(TextId::VersionWritten);
  } else if (line.mark == VersionLineChanged::Mark::NotWritten) {
    text += std::string(" ") + Text(TextId::VersionNotWritten);
  }
  return text;
}

}  // namespace panel

namespace device {
namespace {

constexpr ModelInfo kModels[] = {
    {kModelKT21, "KT-21", "Model:KT-21", "Model:KT-21", panel::TextId::CautionWithKT52},
    {kModelKT40D, "KT-40D(-W)", "Model:KT-40D(-W)", "Model:KT-40D(-W)",
     panel::TextId::CautionWithKT52},
    {kModelKT52W, "KT-52-W", "Model:KT-52W", "Model:KT-52-W", panel::TextId::CautionIoExtension},
};

}  // namespace

const ModelInfo* FindModel(int code) {
  for (const ModelInfo& m : kModels) {
    if (m.code == code) return &m;
  }
  return nullptr;
}

std::string ModelCodeHex(int code) {
  char hex[8];
  std::snprintf(hex, sizeof hex, "%02X", static_cast<unsigned>(code) & 0xFFu);
  return hex;
}

}  // namespace device
