// 16-bit adder with carry in and carry out.
module adder16(input [15:0] a, input [15:0] b, input ci, output [15:0] s, output co);
  assign {co, s} = a + b + ci;
endmodule
