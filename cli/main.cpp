#include "cli/CliApp.h"

using namespace tolvarin;

int main(int argc, char** argv) {
    return CliApp::run(argc, argv);
}
