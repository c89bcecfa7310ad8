# The flows' tests' stored texts: a server on a loopback port nobody listens
# on. Included by tests/flow (Linux) and tests/windows (under wine).
halvorne_add_stored_texts(flow_test_texts
  MARKER "+@+"
  VERSION_DIR_ADDRESS "http://127.0.0.1:1/halvorne/"
  VERSION_FILE_NAME "verze.txt"
  NEW_VERSION_FILE_NAME "SETUP.ZIP"
  DOKUM_FILE_NAME "DOKUMENTACE.PDF"
  CHANGES_HTML_ADDRESS "http://127.0.0.1:1/halvorne/zmeny.html"
  CHANGES_PDF_ADDRESS "http://127.0.0.1:1/halvorne/zmeny.pdf"
  CAPTION_NOTICE "'  (c) Test s.r.o. '")
