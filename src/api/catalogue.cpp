// The library's own constants against the catalogue of the public header,
// so that neither can change without the other.
#include "modules/analog_input.hpp"
#include "modules/analog_output.hpp"
#include "modules/counter.hpp"
#include "modules/digital_io.hpp"
#include "modules/digital_output.hpp"
#include "temperature/hx01.hpp"
#include "temperature/hx02.hpp"
#include "varnode/catalogue.h"

namespace varnode {

static_assert(KL01::channel_count == VARNODE_KL01_CHANNELS);
static_assert(KL02::channel_count == VARNODE_KL02_CHANNELS);
static_assert(KS01::channel_count == VARNODE_KS01_CHANNELS);
static_assert(KS02::channel_count == VARNODE_KS02_CHANNELS);
static_assert(QU01::channel_count == VARNODE_QU01_CHANNELS);
static_assert(RA01::channel_count == VARNODE_RA01_CHANNELS && RE01::channel_count == VARNODE_RE01_CHANNELS);
static_assert(WE01::channel_count == VARNODE_WE01_CHANNELS);
static_assert(HX01::channel_count == VARNODE_HX01_CHANNELS);
static_assert(HX02::channel_count == VARNODE_HX02_CHANNELS);
static_assert(HX01::Sensor::highest_code == VARNODE_HX01_SENSOR_LAST);
static_assert(HX02::Sensor::highest_code == VARNODE_HX02_SENSOR_LAST);
static_assert(RA01::max_samples == VARNODE_SAMPLE_LIMIT && RE01::max_samples == VARNODE_SAMPLE_LIMIT);

}  // namespace varnode
