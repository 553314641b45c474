// Writes a workbook from a JSON list of row records with the product's own workbook writer, so
// that script tests start from exactly what generate writes: write_workbook <rows.json> <out.xlsx>.

#include <fstream>
#include <iostream>

#include "serializers/xlsx/xlsx.hpp"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: write_workbook <rows.json> <out.xlsx>\n";
    return 2;
  }
  try {
    std::ifstream input(argv[1]);
    const auto rows = serializers::Document::parse(input);
    serializers::export_to_xlsx(rows, argv[2]);
  } catch (const std::exception& error) {
    std::cerr << error.what() << '\n';
    return 1;
  }
  return 0;
}
