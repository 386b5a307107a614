// linear: linearity calibration of a touch controller (see calibration/programs.h).

#include "calibration/programs.h"

int main(int argc, char** argv) {
    return kvr::calibration::runLinearity(argc, argv);
}
