"""The subcommands of bench.py, one module each (bench.py COMMAND -h):

  matrix   the auction where structure decides: sizes x difficulties x weights
  easy     the easy pairs end to end, and the matching step alone
  check    both engines on small scenes: the same passes and rows
  versus   the matching step of this build beside another build's
  large    reading at scale, against a one-core from_chars loop
  reader   reader throughput, plain and gzip
  sweep    the weight sweep against a loop of seedmatch runs; match_many
  python   the Python package against the C++ matching step
  writers  the scene writers side by side
  scenes   writes a scene
  estimate the estimate without known pairs against the truth over sweeps; its cost
  common   what they share
"""
