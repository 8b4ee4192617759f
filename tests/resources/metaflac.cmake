# metaflac's view of the generated impulse responses: frames, channels, bits, rate, block sizes.
set(expected_frames 340317 338624 337851 277383 303342 94990)
set(type 1)
foreach(frames ${expected_frames})
  execute_process(
    COMMAND ${METAFLAC} --show-total-samples --show-channels --show-bps --show-sample-rate
      --show-min-blocksize --show-max-blocksize ${DIR}/ir${type}.flac
    OUTPUT_VARIABLE out RESULT_VARIABLE rc)
  set(want "${frames}\n2\n24\n44100\n4096\n4096\n")
  if(NOT rc EQUAL 0 OR NOT out STREQUAL want)
    message(FATAL_ERROR "ir${type}.flac: metaflac says\n${out}but expected\n${want}")
  endif()
  math(EXPR type "${type} + 1")
endforeach()
message(STATUS "six impulse responses as expected")
