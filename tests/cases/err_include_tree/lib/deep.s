ei
