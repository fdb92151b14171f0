// Everything that differs between the two hardware revisions, in one place.
#pragma once

#ifndef MIREL_HW_REV
#define MIREL_HW_REV 2
#endif
static_assert(MIREL_HW_REV == 1 || MIREL_HW_REV == 2, "MIREL_HW_REV must be 1 or 2");

namespace hw {

constexpr int rev = MIREL_HW_REV;

// Revision 2 labels and patches the buses of inputs C, D and the digital input
// and has the input-mode controls; revision 1 has the panel's service mode.
constexpr bool has_inputs_cd = rev == 2;
constexpr bool has_input_modes = rev == 2;
constexpr bool has_service_page = rev == 1;

// The panel: revision 1 shows the temperature in the delay unit's system
// (°F with feet) and names the mute-on-load switch differently; revision 2
// has the AVB/ADAT external input. The updater lies on the USB stick.
constexpr bool panel_temperature_fahrenheit = rev == 1;
constexpr bool has_avb_input = rev == 2;
constexpr const char *panel_mute_on_load_label = rev == 2 ? "PROJECT LOAD = MUTE" : "MUTE ON PROJ.-LOAD";
constexpr const char *updater_path = rev == 2 ? "/update/firmware/tarvel_hw2" : "/update/firmware/tarvel";

// Reference level of the output limiter, dB: the amplifier input stages differ.
constexpr double limiter_reference_db = rev == 2 ? 20.2 : 21.3;

}  // namespace hw
