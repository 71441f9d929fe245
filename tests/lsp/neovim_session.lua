-- Neovim's built-in LSP client, headless: attaches tarvo --lsp ($TARVO) to
-- the file opened, waits for two diagnostics and prints them, one a line:
-- LINE:COL-ENDLINE:ENDCOL SEVERITY MESSAGE (0-based, as the protocol).
local ok, err = pcall(function()
  vim.bo.filetype = "v810"
  local client = vim.lsp.start_client({
    name = "tarvo",
    cmd = { os.getenv("TARVO"), "--lsp" },
    root_dir = vim.fn.getcwd(),
  })
  vim.lsp.buf_attach_client(0, client)
  vim.wait(20000, function() return #vim.diagnostic.get(0) >= 2 end, 20)
  local lines = {}
  for _, d in ipairs(vim.diagnostic.get(0)) do
    table.insert(lines, string.format("%d:%d-%d:%d %s %s", d.lnum, d.col, d.end_lnum, d.end_col,
      vim.diagnostic.severity[d.severity], d.message))
  end
  table.sort(lines)
  io.stdout:write(table.concat(lines, "\n") .. "\n")
  vim.lsp.stop_client(client)
  vim.wait(5000, function() return vim.lsp.get_client_by_id(client) == nil end, 20)
end)
if not ok then
  io.stderr:write(tostring(err) .. "\n")
  vim.cmd("cquit! 1")
end
vim.cmd("qall!")
