/* Win32 layer test data: the smallest program, which win32_trust_test's fixtures sign. */
int main(void) { return 0; }
