// Keeps the library core non-empty while its modules are being added.
namespace fp_driver_placeholder { int unused = 0; }
