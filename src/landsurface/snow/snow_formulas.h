// The small formulas of the snow module: saturation vapour pressure over ice
// and water, the seasonal factors of the melt and radiation coefficients, air
// pressure and the wet-bulb temperature. Plain functions of plain values.
#pragma once

namespace tavro::snow {

// 0 °C in kelvin, as the snow module defines it.
inline constexpr double kZeroCelsius = 273.16;
// Saturation vapour pressure over ice at 0 °C of the energy balance, hPa.
inline constexpr double kIceVapourPressureAtZero = 6.1071;

// Magnus formula over ice (hPa) for T in °C: 6.1078 exp(21.874 T / (T + 265.5)).
double SaturationVapourPressureIce(double temperature);

// The energy balance's saturation vapour pressure (hPa) at T in °C: over water
// 6.1078 exp(17.08085 T / (T + 234.175)) above 0 °C, else over ice
// 6.1071 exp(22.4429 T / (T + 272.44)) (the Magnus form over ice).
double EnergyBalanceVapourPressure(double temperature);
// Over ice only, for a surface temperature in kelvin.
double IceVapourPressureAtSurface(double surfaceKelvin);

// mean + amplitude sin((d - 80) 0.017214206) for the day of the year d, with
// mean and amplitude from the minimum and maximum of the factor.
double SeasonalFactor(double minimum, double maximum, int dayOfYear);

// Air pressure (hPa) of the standard atmosphere at an elevation in m.
double AirPressure(double elevation);

// Wet-bulb temperature (°C) at air temperature T (°C), vapour pressure e and
// air pressure p (hPa): from the dew point, a search of at most 15 rounds on
// the psychrometric equation 6.1115 exp(22.46 Tw / (272.62 + Tw))
// - 0.00066 p (T - Tw)(1 + 0.00115 Tw) = e, to a last step of 0.025 K.
double WetBulbTemperature(double temperature, double vapourPressure, double airPressure);

} // namespace tavro::snow
