// RestartWindows' decisions, with the system calls replaced: which calls it
// makes on each family, and that a token without the shutdown privilege
// means no restart and no message.
#include "cleaning/system_restart.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/driver.h"

namespace {

std::vector<std::string> calls;
int osClass = kOsWindowsNt;
DWORD adjustError = ERROR_SUCCESS;

RestartCalls Fakes() {
  calls.clear();
  return RestartCalls{
      [] { return osClass; },
      [](unsigned flags, unsigned long reserved) {
        calls.push_back("exit " + std::to_string(flags) + " " + std::to_string(reserved));
        return 1;
      },
      [](void* process, unsigned long access, void** token) {
        calls.push_back("token " + std::to_string(access));
        return SystemRestartCalls().openProcessToken(process, access, token);  // a real handle to close
      },
      [](void* luid) {
        calls.push_back("lookup");
        return SystemRestartCalls().lookupShutdownPrivilege(luid);
      },
      [](void*, void* privileges) {
        const auto* p = static_cast<const TOKEN_PRIVILEGES*>(privileges);
        calls.push_back("adjust " + std::to_string(p->PrivilegeCount) + " " + std::to_string(p->Privileges[0].Attributes));
        SetLastError(adjustError);
        return 1;
      },
  };
}

TEST(RestartWindows, NtFamilyEnablesTheShutdownPrivilegeThenRestarts) {
  osClass = kOsWindowsNt;
  adjustError = ERROR_SUCCESS;
  EXPECT_TRUE(RestartWindows(Fakes()));
  EXPECT_EQ(calls, (std::vector<std::string>{"token 40", "lookup", "adjust 1 2", "exit 6 0"}));
}

TEST(RestartWindows, WithoutTheShutdownPrivilegeNothingHappensAndNothingIsSaid) {
  osClass = kOsWindowsNt;
  adjustError = ERROR_NOT_ALL_ASSIGNED;
  const RestartCalls fakes = Fakes();
  // On a thread of its own: a message box would block the call, and is
  // looked for (and answered) while it waits.
  std::atomic<bool> done{false};
  bool accepted = true;
  std::thread restart([&] {
    accepted = RestartWindows(fakes);
    done = true;
  });
  const bool returned = e2e::WaitUntil([&] { return done.load(); }, 3000);
  const HWND box = e2e::WaitForDialog(e2e::kCaption, 0xFFFF, GetCurrentProcessId(), 0);
  if (box != nullptr) e2e::AnswerMessageBox(box, IDOK);
  restart.join();
  EXPECT_TRUE(returned);
  EXPECT_FALSE(accepted) << "a refused restart is reported to the caller";
  EXPECT_EQ(box, nullptr);
  EXPECT_EQ(calls, (std::vector<std::string>{"token 40", "lookup", "adjust 1 2"}));
}

TEST(RestartWindows, NinetyFiveFamilyRestartsWithoutTokenWork) {
  osClass = kOsWindows9x;
  EXPECT_TRUE(RestartWindows(Fakes()));
  EXPECT_EQ(calls, std::vector<std::string>{"exit 6 0"});
}

TEST(OsClass, IsTheFamilyWindowsReports) {
  // Read afresh: this suite runs under the default (NT) version.
  EXPECT_EQ(GetOsClass(), kOsWindowsNt);
}

}  // namespace
