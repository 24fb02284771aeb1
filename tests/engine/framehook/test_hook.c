/* A frame-hook library for the tests: Configure records its arguments, Process counts calls. */
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

struct HookContext {
  int argc;
  char args[256];
  int processed;
};

int Configure(void** ctxp, int argc, char* argv[]) {
  struct HookContext* c = calloc(1, sizeof *c);
  if (!c) return -1;
  c->argc = argc;
  for (int i = 0; i < argc; ++i) {
    if (i) strncat(c->args, "|", sizeof c->args - strlen(c->args) - 1);
    strncat(c->args, argv[i], sizeof c->args - strlen(c->args) - 1);
  }
  if (argc > 1 && strcmp(argv[1], "fail") == 0) {
    free(c);
    return 1;
  }
  *ctxp = c;
  return 0;
}

void Process(void* ctx, void* picture, int pix_fmt, int width, int height, int64_t pts) {
  (void)picture, (void)pix_fmt, (void)width, (void)height, (void)pts;
  ((struct HookContext*)ctx)->processed++;
}

void Release(void* ctx) {
  free(ctx);
}

/* For the tests: the context's argument count and text. */
int TestHookArgc(void* ctx) {
  return ((struct HookContext*)ctx)->argc;
}
const char* TestHookArgs(void* ctx) {
  return ((struct HookContext*)ctx)->args;
}
