// A module file named like MJBase that lacks its factory.
#if defined(_WIN32)
extern "C" __declspec(dllexport) int not_the_factory() { return 0; }
#else
extern "C" __attribute__((visibility("default"))) int not_the_factory() { return 0; }
#endif
