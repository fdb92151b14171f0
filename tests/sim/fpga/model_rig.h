// The model on a simulation root whose window and control port are written
// by the server's own DSP code in this process, plus the measurements the
// model tests make on its output.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "fpgamodel.h"
#include "support/sim_root.h"

class ModelRig {
public:
    ModelRig();
    ~ModelRig();

    // A command line through the server's dispatch, then real-time cycles
    // until its uploads are done.
    void command(const std::string &line);
    void settle();
    // The control word with audio on (the server sends it 100 cycles after start).
    void enable_audio();
    // Frames of the six inputs through the model; returns the 8 outputs.
    std::vector<float> run(const std::vector<float> &in);

    fpgamodel *model() { return model_.get(); }
    const std::string &root() const { return root_.dir(); }

private:
    SimRoot root_;
    std::unique_ptr<fpgamodel> model_;
};

// Interleaved frames of `channels` channels, all silent.
std::vector<float> silence(long frames, int channels = FPGAMODEL_INPUTS);
// Adds a sine of peak amplitude `amp` at f Hz to channel ch.
void add_sine(std::vector<float> &x, int channels, int ch, double f, double amp);
// Level in dB of the f Hz component of channel ch over frames [from, from + n),
// which must hold whole periods of f.
double tone_db(const std::vector<float> &x, int channels, int ch, double f, long from, long n);
