/* The test plugins note what the player asked of them, one line a call, in the file that
 * QV_PLUGIN_LOG names (nothing without it), so that a test can check the order of the calls. */
#ifndef QV_TEST_PLUGIN_LOG_H
#define QV_TEST_PLUGIN_LOG_H

#include <stdio.h>
#include <stdlib.h>

static void PluginLog(const char* module, const char* what) {
  const char* path = getenv("QV_PLUGIN_LOG");
  if (path == NULL) return;
  FILE* f = fopen(path, "a");
  if (f == NULL) return;
  fprintf(f, "%s %s\n", module, what);
  fclose(f);
}

#endif
