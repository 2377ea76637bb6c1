// Simulated Windows for the host tests: the splash, the dialogs and a scripted user.
#include "platform/sim/sim_platform.h"

namespace carryall::sim {

// ---- user interface ----

namespace {
class SimSplash : public ISplash {
 public:
  explicit SimSplash(SimUserInterface& ui) : ui_(ui) {
    ++ui_.open_splashes;
    Record("splash created");
  }
  ~SimSplash() override {
    --ui_.open_splashes;
    Record("splash destroyed");
  }
  void Show() override { Record("splash show"); }
  void Hide() override { Record("splash hide"); }
  void End(int result) override { Record("splash end " + std::to_string(result)); }

 private:
  void Record(const std::string& what) {
    std::lock_guard<std::mutex> lock(ui_.mutex);
    ui_.events.push_back(what);
  }
  SimUserInterface& ui_;
};
}  // namespace

std::unique_ptr<ISplash> SimUserInterface::CreateSplash() {
  if (Injected(faults, "IUserInterface::CreateSplash")) return nullptr;
  return std::make_unique<SimSplash>(*this);
}

int SimUserInterface::AskQuestion(const Text& heading, const Text& details) {
  if (Injected(faults, "IUserInterface::AskQuestion")) return 2;  // no dialog: IDCANCEL, never Yes
  std::lock_guard<std::mutex> lock(mutex);
  events.push_back("question");
  question_heading = heading;
  question_details = details;
  return question_answer;
}

int SimUserInterface::PromptForFolder(const Text& caption, Text& folder) {
  if (Injected(faults, "IUserInterface::PromptForFolder")) return -1;  // the dialog could not be made
  {
    std::lock_guard<std::mutex> lock(mutex);
    events.push_back("prompt");
    prompt_caption = caption;
    prompt_shown = folder;
  }
  if (during_prompt) during_prompt();
  if (prompt_answer == 1) folder = prompt_typed;
  return prompt_answer;
}

void SimUserInterface::ShowReport(const Text& message, const Text& link) {
  std::lock_guard<std::mutex> lock(mutex);
  events.push_back("report");
  report_message = message;
  report_link = link;
}

}  // namespace carryall::sim
