#include "app/ventaro_main.h"

int main(int argc, char** argv) {
  return ventaro::ventaroMain(argc, argv);
}
