unsigned trelvix_fake_dependency_marker(void) { return 0xC0FFEEu; }
