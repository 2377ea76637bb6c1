// Portable layer. The user-interface services that the core drives.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "base/text.h"

namespace carryall {

// The modeless splash dialog (resource 131), created hidden.
class ISplash {
 public:
  virtual ~ISplash() = default;  // destroys the window
  virtual void Show() = 0;
  virtual void Hide() = 0;
  virtual void End(int result) = 0;
};

// IDOK: what the question and the temporary-folder dialog answer when the user agreed.
constexpr int kIdOk = 1;

class IUserInterface {
 public:
  virtual ~IUserInterface() = default;
  // InitCommonControlsEx with size 8 and class mask 0xFF, and what else must be settled
  // before a second thread may make windows. Called on the main thread, before the
  // worker starts, in every run that may show a window.
  virtual void InitCommonControls() = 0;
  // nullptr when the dialog cannot be created; the run goes on without a splash.
  virtual std::unique_ptr<ISplash> CreateSplash() = 0;
  // The report dialog in question mode: heading and details; answers kIdOk for Yes.
  virtual int AskQuestion(const Text& heading, const Text& details) = 0;
  // The report dialog in error mode; returns when the user closed it.
  virtual void ShowReport(const Text& message, const Text& link) = 0;
  // The temporary-folder dialog (template 146), modal, without a parent, on the calling
  // thread: caption, and the folder shown and typed. Answers 1 (IDOK) when the user
  // confirmed, with folder holding the text exactly as typed; anything else leaves
  // folder unchanged.
  virtual int PromptForFolder(const Text& caption, Text& folder) = 0;
};

}  // namespace carryall
