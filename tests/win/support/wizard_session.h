// The set-up every test of the real exe repeats: a clean log and framework
// marks, environment variables for the stand-ins, a loopback server reached
// as the proxy, and a tear-down that leaves no process, window or file
// behind for the next test to trip over.
#ifndef RAVEN_TESTS_WIN_SUPPORT_WIZARD_SESSION_H
#define RAVEN_TESTS_WIN_SUPPORT_WIZARD_SESSION_H

#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "../fixtures/http_server/loopback_server.h"
#include "resource_ids.h"
#include "support/e2e.h"

namespace e2e {

// A string of the exe's own table, so tests follow the texts it ships.
std::string ExeString(const std::string& exe, UINT id);
// Deletes a folder with everything in it (a trailing "\" is allowed).
void RemoveTree(const std::string& folder);
// Work folders that appeared since `before` was taken.
std::vector<std::string> NewWorkFolders(const std::vector<std::string>& before);
// The stand-in redistributable that the default build pins.
std::string DemoRedistributable();
// Top-level windows of the demo setup program, of any process.
std::vector<HWND> SetupProgramWindows();
void CloseSetupPrograms();
// What the demo setup program recorded in `file` ("command<TAB>folder").
bool ReadSetupRecord(const std::string& file, std::string* commandLine, std::string* folder,
                     DWORD timeoutMs = 20000);
// Uninstalls the stand-in's test package and clears the marks.
void RemoveFrameworkPackage();

class WizardSession : public ::testing::Test {
 public:
  void SetUp() override;
  void TearDown() override;

  // Set for the started exe (it inherits this environment) until TearDown.
  void SetEnv(const char* name, const std::string& value);
  // A file under the temporary folder, deleted now and in TearDown.
  std::string ScratchFile(const std::string& name);
  // Serves `body` from the loopback server and makes it the proxy.
  void Serve(const std::string& options, const std::string& body = DemoRedistributable());
  void PointProxyAt(unsigned short port);
  // Copies `source` beside the variant's exe as its redistributable.
  void PutBesideExe(const std::string& variant, const std::string& source);

  void Launch(const std::string& variant, const std::string& arguments = "",
              const std::string& currentDir = "");
  void Start(const std::string& variant, const std::string& arguments = "");

  std::string Str(UINT id) const { return ExeString(exe_, id); }
  std::string Text(int id) const { return ControlText(wizard_, id); }
  bool Visible(int id) const { return ControlVisible(wizard_, id); }
  bool Enabled(int id) const { return ControlEnabled(wizard_, id); }
  bool WaitText(int id, const std::string& text, DWORD ms = 20000) const;
  // A click as a user could make it: only on an enabled button.
  void Press(int id);
  bool EndsSoon(DWORD ms = 20000) { return bootstrapper_.Wait(ms); }
  // Saves the wizard as <build>\screenshots\<name>.bmp.
  void Shot(const std::string& name);

  std::string exe_;
  Process bootstrapper_;
  HWND wizard_ = nullptr;
  loopback::Server server_;

 private:
  std::unique_ptr<loopback::ProxySetting> proxy_;
  std::vector<std::string> env_, files_;
};

}  // namespace e2e

#endif
