// Keeps the program's core library non-empty while its modules are being added.
namespace fp_filedriver_placeholder { int unused = 0; }
