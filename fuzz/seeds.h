// Seed inputs of the fuzz targets, made with the test-document builder: written to folders by
// make_seeds for fuzzing runs, and replayed from memory by the native replay tests.
#pragma once

#include "tests/support/document_builder.h"

#include <string>
#include <vector>

struct Seed {
    std::string Name;  // file name in the target's seed folder
    Bytes Data;
};

// The targets that have seeds: "reader", "filter" and "registration".
const std::vector<std::string>& SeedTargets();

// The seeds of one target; none for a name not in SeedTargets().
std::vector<Seed> SeedsFor(const std::string& target);
