/* A stand-in for the device library that answers with a marker version, and needs a helper
   library that lies only in the same folder. */
unsigned trelvix_fake_dependency_marker(void);
unsigned avdevice_version(void) { return trelvix_fake_dependency_marker(); }
void avdevice_register_all(void) {}
