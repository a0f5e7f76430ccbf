// A module file named like MJBase that lacks its factory.
extern "C" __attribute__((visibility("default"))) int not_the_factory() { return 0; }
