// quorvexupdate-cli: the headless update as a program of its own, for
// machines without a desktop; it links Qt Core and DBus, no GUI library.
#include "headless.h"

int main(int argc, char** argv) {
    if (PrintHelpOrVersion(argc, argv, HeadlessProgram::kCli)) return 0;
    return RunHeadless(argc, argv, HeadlessProgram::kCli);
}
