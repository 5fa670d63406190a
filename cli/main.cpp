#include "cli/CliApp.h"

int main(int argc, char** argv) {
    return CliApp::run(argc, argv);
}
