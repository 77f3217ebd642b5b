// RunRecord: what one device's run showed, kept for its report and for a live view: every
// notice and question (caption, text in the run's language, answer) in order, the stage,
// the progress along the current pass, the identity. Read from any thread while the run
// goes on.
//
// With a front end behind it (one device in the console or a dialog), every event goes on
// to that front end, which shows it and answers the questions: the run is exactly what it
// was without the record. Without one (a device of a batch), nothing is shown and nothing
// blocks: notices are only recorded, and the questions a run raises itself get the
// batch's answers (the port question Yes: the device is reached where its XPort says it
// listens; every other question No).
#pragma once

#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "panel/events.h"
#include "panel/progress_state.h"

namespace report {

struct NoticeRecord {
  std::string caption;
  std::string text;
  bool question = false;
  bool answer = false;  // questions only
  bool operator==(const NoticeRecord&) const = default;
};

class RunRecord final : public panel::RunObserver {
 public:
  explicit RunRecord(panel::RunObserver* frontEnd = nullptr) : frontEnd_(frontEnd) {}

  void OnEvent(const panel::Event& event) override;
  bool OnQuestion(const panel::Question& question) override;

  // Adds a notice raised outside the run (the data file's, read once for a batch).
  void AddNotice(const NoticeRecord& notice);
  // Adds a question asked outside the run (a batch's one question) to the record.
  void RecordQuestion(const std::string& text, const std::string& caption, bool answer);
  // Forgets an earlier run (one record serves many runs in a dialog).
  void NewRecord();
  // Sets the stage before the run raises one (a batch's devices start Queued).
  void SetStage(panel::Stage stage);

  std::vector<NoticeRecord> Notices() const;
  std::size_t NoticeCount() const;
  std::vector<NoticeRecord> NoticesFrom(std::size_t first) const;
  panel::Stage Stage() const;
  // 0..100 along the progress bar's current pass.
  int Percent() const;
  std::optional<device::DeviceIdentity> Identity() const;

 private:
  panel::RunObserver* const frontEnd_;
  mutable std::mutex mu_;
  panel::Stage stage_ = panel::Stage::Queued;
  panel::ProgressState progress_;
  std::optional<device::DeviceIdentity> identity_;
  std::vector<NoticeRecord> notices_;
};

}  // namespace report
