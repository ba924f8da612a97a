// A library in the plug-in directory that offers no "cloning_plugin_init", only a near miss.
extern "C" __attribute__((visibility("default"))) int cloning_plugin_setup(void*)
{
    return 0;
}
