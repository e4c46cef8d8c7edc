#include "suiteserver/ServerProgram.h"

int main(int argc, char** argv) {
    return orvel::suiteserver::RunServerProgram(argc, argv);
}
