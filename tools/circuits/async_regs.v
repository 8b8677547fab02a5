// Registers with asynchronous clear, asynchronous preset, both at once,
// and asynchronous clear together with an enable.
module async_regs(input clk, input aclr, input apre, input en, input [3:0] d,
                  output reg [3:0] qc, output reg [3:0] qp, output reg [3:0] qs,
                  output reg [3:0] qe);
  always @(posedge clk or posedge aclr)
    if (aclr) qc <= 4'd0; else qc <= d + qc;
  always @(posedge clk or posedge apre)
    if (apre) qp <= 4'hf; else qp <= d ^ qp;
  always @(posedge clk or posedge aclr or negedge apre)
    if (aclr) qs <= 4'd0; else if (!apre) qs <= 4'hf; else qs <= {qs[2:0], d[0]};
  always @(posedge clk or posedge aclr)
    if (aclr) qe <= 4'd0; else if (en) qe <= d - qe;
endmodule
