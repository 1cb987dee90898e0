/* The floor of the round-trip benchmarks: a static program that does
   nothing, started the same way as quillmore. What a run costs above it is
   quillmore's own. */
int main(void) { return 0; }
