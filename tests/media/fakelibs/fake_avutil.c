/* A stand-in for the utility library whose logging entry points exist but whose later ones do
   not: binding it fails after the logging slots were filled. */
unsigned avutil_version(void) { return 0; }
void av_log_set_callback(void* callback) { (void)callback; }
void av_log_set_level(int level) { (void)level; }
int av_log_get_level(void) { return 0; }
