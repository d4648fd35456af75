# Example catchment control file (filled in as the model set-up is built).
