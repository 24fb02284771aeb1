/* A frame-hook library without its Process entry point. */
int Configure(void** ctxp, int argc, char* argv[]) {
  (void)argc, (void)argv;
  *ctxp = 0;
  return 0;
}
