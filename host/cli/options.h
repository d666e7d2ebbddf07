// What the command line asked for, once parsed and checked.
#ifndef QUON_CLI_OPTIONS_H
#define QUON_CLI_OPTIONS_H

#include <string>
#include <vector>

#include "quon/engine/module_loader.h"
#include "quon/output/trace_printer.h"
#include "quon/scenario/scenario.h"
#include "quon/validate/validator.h"

namespace quon {

struct host_options {
    std::string command;  // "" (the demo), "run", "shell", "validate"
    std::vector<std::string> files;
    validator_options validation;
    bool trace = false;
    output_format format = output_format::text;
    scenario_settings settings;
    std::string http;       // --http ADDR:PORT; empty: no wall page
    std::string shellWall;  // shell WALL_FILE: a wall to run in the shell
    // The kinds of module this build runs besides shared objects, given to
    // every engine that loads components.
    module_loaders modules;
};

}  // namespace quon

#endif
