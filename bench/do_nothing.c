/* The floor of the run benchmarks: a static program that does nothing,
   started the same way as quillmore. What a run costs over it is what
   quillmore itself costs; the rest is the machine's price of starting and
   ending a process. */
int main(void) { return 0; }
