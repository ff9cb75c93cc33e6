/* A shared object named like a plug-in that exports none of the plug-in functions. */
__attribute__((visibility("default"))) int NotAPlugin(void) {
    return 42;
}
