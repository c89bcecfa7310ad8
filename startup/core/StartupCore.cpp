// STUB: placeholder until the start-up logic lands.
