/* A C host of the virtual display library: links it, calls the three entry points with JSON
 * text and gives every answer back. Run with no display; exits 0 when every check holds. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "tavren_remote_display.h"

static int failures = 0;

/* Checks that the answer contains `expected`, then frees it. */
static void expect(char* answer, const char* expected, const char* what) {
  if (answer == NULL || strstr(answer, expected) == NULL) {
    fprintf(stderr, "%s: expected %s in %s\n", what, expected, answer ? answer : "(null)");
    ++failures;
  }
  TavrenRemoteDisplayFree(answer);
}

int main(void) {
  expect(TavrenRemoteDisplayStatus(), "\"headless\":true", "status");
  expect(TavrenRemoteDisplayEnsure(NULL), "缺少有效的远控会话标识。", "no parameters");
  expect(TavrenRemoteDisplayEnsure("not json"), "缺少有效的远控会话标识。", "not JSON");
  expect(TavrenRemoteDisplayEnsure("{\"owner\":\"c\",\"width\":\"wide\"}"), "虚拟显示器尺寸无效。",
         "width as text");

  char* made = TavrenRemoteDisplayEnsure("{\"owner\":\"c\",\"width\":800,\"height\":600}");
  const char* id = made ? strstr(made, "\"displayId\":\"") : NULL;
  if (id == NULL || strstr(made, "\"created\":true") == NULL) {
    fprintf(stderr, "ensure: %s\n", made ? made : "(null)");
    return 1;
  }
  int number = atoi(id + strlen("\"displayId\":\""));
  TavrenRemoteDisplayFree(made);
  char socketPath[64];
  snprintf(socketPath, sizeof socketPath, "/tmp/.X11-unix/X%d", number);
  if (access(socketPath, F_OK) != 0) {
    fprintf(stderr, "no server socket %s\n", socketPath);
    ++failures;
  }

  expect(TavrenRemoteDisplayEnsure("{\"owner\":\"c\"}"), "\"created\":false", "same owner");
  expect(TavrenRemoteDisplayEnsure("{\"owner\":\"d\"}"), "虚拟显示器正由另一个远控会话使用。",
         "other owner");
  expect(TavrenRemoteDisplayStatus(), "\"ownedDisplayId\"", "status while owned");
  expect(TavrenRemoteDisplayRelease("{\"owner\":\"d\"}"), "\"released\":false", "wrong owner");
  expect(TavrenRemoteDisplayRelease("{\"owner\":\"c\"}"), "\"released\":true", "release");
  if (access(socketPath, F_OK) == 0) {
    fprintf(stderr, "server socket %s still there after release\n", socketPath);
    ++failures;
  }
  expect(TavrenRemoteDisplayRelease(NULL), "\"released\":false", "release again");
  return failures == 0 ? 0 : 1;
}
