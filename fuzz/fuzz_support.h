// Small pieces the fuzz targets share: a host that keeps only what the oracles compare, a
// sleeper that never sleeps, and a reader that turns the fuzzer's bytes into choices.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "panel/dialog_host.h"
#include "platform/clock.h"

namespace fuzzing {

// Fails the run with a message; libFuzzer keeps the input that led here.
[[noreturn]] inline void Fail(const std::string& what) {
  std::fprintf(stderr, "oracle: %s\n", what.c_str());
  std::abort();
}
inline void Check(bool ok, const char* what) {
  if (!ok) Fail(what);
}
// Builds its message even when ok: not for loops.
inline void Check(bool ok, const std::string& what) {
  if (!ok) Fail(what);
}

class LeanHost final : public panel::DialogHost {
 public:
  void SetControlText(int id, const std::string& text) override {
    if (id == panel::IDC_ADDRESS) address = text;
    if (id == panel::IDC_PORT) port = text;
  }
  std::string GetControlText(int id, std::size_t maxChars) override {
    const std::string& t = id == panel::IDC_ADDRESS ? address : id == panel::IDC_PORT ? port : none;
    return t.substr(0, maxChars);  // ASCII only
  }
  void EnableControl(int, bool) override {}
  void SetProgressRange(int) override {}
  void SetProgressStep(int) override {}
  void SetProgressPos(int) override {}
  void StepProgress() override {}
  void ShowMessage(const std::string& text, const std::string&, panel::NoticeStyle) override {
    notices.push_back(text);
  }
  bool AskQuestion(const std::string& text, const std::string&) override {
    notices.push_back("?" + text.substr(0, 4));
    return answerYes;
  }

  std::string address = "127.0.0.1";
  std::string port = "10003";
  std::vector<std::string> notices;  // questions as "?" and their first four bytes
  bool answerYes = true;

 private:
  std::string none;
};

class NoSleep final : public platform::Sleeper {
 public:
  void SleepMs(int) override {}
};

// Reads the fuzzer's bytes front to back; past the end every read gives 0.
class Reader {
 public:
  Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  unsigned Word() { return Byte() | (unsigned{Byte()} << 8); }
  std::size_t Left() const { return size_ - pos_; }
  const std::uint8_t* Rest() const { return data_ + pos_; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

}  // namespace fuzzing
