# Fills in the man page's version: cmake -DIN= -DOUT= -DVERSION= -P man_page.cmake
cmake_minimum_required(VERSION 3.25)
configure_file(${IN} ${OUT} @ONLY)
