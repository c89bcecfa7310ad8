// STUB: placeholder until the transfer logic lands.
