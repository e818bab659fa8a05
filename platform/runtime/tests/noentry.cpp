// A shared library that is not a component library: it has no DllGetClassObject.
extern "C" __attribute__((visibility("default"))) int TestNoEntryMarker() { return 42; }
