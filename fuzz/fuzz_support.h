// Small pieces the fuzz targets share: a host that keeps only what the oracles compare, a
// sleeper that never sleeps, and a reader that turns the fuzzer's bytes into choices.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "panel/events.h"
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

// Keeps the notices' texts and the questions as "?" and their first four bytes, answers
// the questions as told.
class LeanObserver final : public panel::RunObserver {
 public:
  void OnEvent(const panel::Event& event) override {
    if (const auto* n = std::get_if<panel::NoticeRaised>(&event)) {
      notices.push_back(panel::Render(n->message));
    }
  }
  bool OnQuestion(const panel::Question& question) override {
    notices.push_back("?" + panel::Render(question.message).substr(0, 4));
    return answerYes;
  }

  std::vector<std::string> notices;
  bool answerYes = true;
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
