#include "model_rig.h"

#include <cmath>
#include <gtest/gtest.h>
#include <numbers>

#include "command.h"
#include "dsp/dsp_lowlevel.h"
#include "dsp/rt_thread.h"
#include "platform.h"
#include "report.h"
#include "support/capture.h"
#include "system.h"

ModelRig::ModelRig()
{
    root_.activate();
    platform_init();
    FdCapture quiet;
    EXPECT_EQ(system_init(), 0);
    report_pending_clear();
    EXPECT_EQ(dsp_lowlevel_prepare(), 0);
    quiet.finish();
    settle();
    model_ = std::make_unique<fpgamodel>();
    std::string error;
    EXPECT_TRUE(fpgamodel_open(model_.get(), root_.dir(), &error)) << error;
}

ModelRig::~ModelRig() = default;

void ModelRig::command(const std::string &line)
{
    pthread_mutex_lock(&command_lock);
    command_work(line.c_str(), 0);
    pthread_mutex_unlock(&command_lock);
    settle();
}

void ModelRig::settle()
{
    rt_cycle_state st;
    rt_cycle_init(&st);
    for (int i = 0; i < 10; i++) {
        rt_info->command_stream_size = 0;
        rt_cycle(&st);
        if (rt_info->command_stream_size == 0)
            break;
    }
    rt_info->command_stream_size = 0;
}

void ModelRig::enable_audio()
{
    my_device->audio_enabled = 1;
    dsp_write_control();
}

std::vector<float> ModelRig::run(const std::vector<float> &in)
{
    long frames = (long)(in.size() / FPGAMODEL_INPUTS);
    std::vector<float> out((size_t)frames * FPGAMODEL_OUTPUTS);
    fpgamodel_process(model_.get(), in.data(), FPGAMODEL_INPUTS, out.data(), frames);
    return out;
}

std::vector<float> silence(long frames, int channels)
{
    return std::vector<float>((size_t)frames * (size_t)channels, 0.0f);
}

void add_sine(std::vector<float> &x, int channels, int ch, double f, double amp)
{
    long frames = (long)(x.size() / (size_t)channels);
    for (long i = 0; i < frames; i++)
        x[(size_t)(i * channels + ch)] += (float)(amp * std::sin(2.0 * std::numbers::pi * f * (double)i / 96000.0));
}

double tone_db(const std::vector<float> &x, int channels, int ch, double f, long from, long n)
{
    double re = 0.0, im = 0.0;
    for (long i = from; i < from + n; i++) {
        double w = 2.0 * std::numbers::pi * f * (double)i / 96000.0;
        double v = x[(size_t)(i * channels + ch)];
        re += v * std::cos(w);
        im += v * std::sin(w);
    }
    return 20.0 * std::log10(2.0 * std::hypot(re, im) / (double)n);
}
