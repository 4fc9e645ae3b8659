// A wizard model on a real hive file in a temporary folder, with a view
// that records what the window would show and a recording SvcUtil.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "wizard/form1_model.h"
#include "wizard/hive_parameter_store.h"

namespace corvane::wizard::testing {

// A temporary folder, removed with everything in it.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

struct Message {
  std::string text, title;
  MsgIcon icon;
};

class RecordingView : public WizardView {
 public:
  void ControlChanged(const std::string&) override {}
  void MessageBox(const std::string& text, const std::string& title, MsgIcon icon) override;
  bool AskYesNo(const std::string& text, const std::string& title, MsgIcon icon) override;
  std::string BuildConnectionString(const std::string& current) override;
  void ShowHelp(int context) override { helpContexts.push_back(context); }
  void ShowBusy(bool on) override { busy.push_back(on); }
  void Focus(const std::string& name) override { focus = name; }
  void End() override { ended = true; }

  std::vector<Message> messages;    // message boxes and questions, in order
  std::deque<bool> answers;         // Yes/No answers to give, in order
  std::optional<std::string> built;  // what the builder returns; nullopt: Cancel
  std::vector<int> helpContexts;
  std::string focus;
  std::vector<bool> busy;  // every ShowBusy, in order
  bool ended = false;
};

// Records every write on the way to the real store.
class RecordingStore : public ParameterStore {
 public:
  explicit RecordingStore(ParameterStore& inner) : inner_(inner) {}
  struct Written {
    std::string name, text;
    registry::ValueType type;
  };
  std::optional<Failure> CheckAccess() override { return inner_.CheckAccess(); }
  std::optional<std::string> Read(std::string_view name) override { return inner_.Read(name); }
  std::optional<Failure> Write(std::string_view name, std::string_view text, registry::ValueType type) override;

  std::vector<Written> writes;

 private:
  ParameterStore& inner_;
};

// The clock every test reads: 5 March 2024, 14:30:00.
inline constexpr parameters::DateTime kNow{2024, 3, 5, 14, 30, 0};

class WizardHarness {
 public:
  // A hive in a folder of its own, or in `hiveFile` (to open the same
  // configuration twice).
  explicit WizardHarness(std::filesystem::path hiveFile = {});

  // What the model is handed: the hive, a recording SvcUtil, the folders
  // below, the fixed clock and `serviceAccount`.
  WizardPorts Ports(const std::string& serviceAccount = "EXAMPLE\\svc-corvane");
  // A new model on the hive, loaded as the window opens it.
  Form1Model& Open(const std::string& serviceAccount = "EXAMPLE\\svc-corvane");
  Form1Model& model() { return *model_; }
  // The stored text of a value, nullopt when missing.
  std::optional<std::string> Stored(const std::string& name) const;
  std::map<std::string, std::string> AllStored() const;
  const std::filesystem::path& hiveFile() const { return hiveFile_; }

  RecordingView view;
  // SvcUtil: the status texts it answers in order, and the calls it got.
  std::deque<std::string> statuses;
  std::vector<std::string> serviceCalls;
  bool serviceCreatable = true;
  // A start or restart waits through these status texts, calling
  // `duringWait` after each (a test looks at the controls, or cancels);
  // a CancelWait ends the wait. `requestFailure` is why the request failed.
  std::vector<std::string> waitStatuses;
  std::function<void()> duringWait;
  std::optional<Failure> requestFailure;
  PublicFolderListing folders;
  RecordingStore* recording() { return recording_.get(); }

 private:
  std::unique_ptr<TempFolder> folder_;
  std::filesystem::path hiveFile_;
  std::unique_ptr<HiveParameterStore> store_;
  std::unique_ptr<RecordingStore> recording_;
  std::unique_ptr<Form1Model> model_;
};

// Fills every page through the user actions: a PostgreSQL connection, the
// mailbox, two extra columns, exclusion, the distribution list, both
// contact jobs, every command and SQL box; the schedule is left to the test.
void FillConfiguration(Form1Model& m);

}  // namespace corvane::wizard::testing
