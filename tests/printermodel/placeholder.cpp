// Keeps the printer model library non-empty while its modules are being added.
namespace fp_printermodel_placeholder { int unused = 0; }
