// 8-bit ALU slice: add, subtract, and, or, xor, shift left, shift right,
// set-less-than; flags zero and carry.
module alu8(input [7:0] a, input [7:0] b, input [2:0] op, input ci,
            output reg [7:0] y, output reg c, output z);
  always @* begin
    c = 1'b0;
    case (op)
      3'd0: {c, y} = a + b + ci;
      3'd1: {c, y} = {1'b0, a} - {1'b0, b};
      3'd2: y = a & b;
      3'd3: y = a | b;
      3'd4: y = a ^ b;
      3'd5: y = a << b[2:0];
      3'd6: y = a >> b[2:0];
      default: y = {7'd0, a < b};
    endcase
  end
  assign z = (y == 8'd0);
endmodule
