# Compresses the man pages in DIR as Debian wants them (gzip -9n); without gzip they stay as
# they are and the install rule finds none.
file(GLOB pages ${DIR}/*.1)
if(GZIP AND pages)
  execute_process(COMMAND ${GZIP} -9nf ${pages} RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "gzip of the man pages failed")
  endif()
endif()
